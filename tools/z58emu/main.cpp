// z58emu: the Z58 controller emulator. See --help.
#include "Cp1251.h"
#include "Emulator.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

const char kHelp[] =
    "z58emu - Z58 controller emulator on a pseudo-terminal\n"
    "\n"
    "usage: z58emu [options]\n"
    "Prints \"READY <pty path>\" on stdout once the line is up, and again each time it comes\n"
    "back; stop it with SIGTERM.\n"
    "\n"
    "  --register COMn        link COMn in the port alias folder ($Z58_PORT_DIR) to the line\n"
    "  --serial N             serial number (default 305419896); IdSet changes it\n"
    "  --type T --version V --date D   version reply parts (default QV_r2, 001.083, Nov 11 2019)\n"
    "  --version-text TEXT    send TEXT as the version reply as it stands (\\n, \\xNN)\n"
    "  --settings FILE        initial settings text (Windows-1251 file)\n"
    "  --settings-text TEXT   initial settings text (UTF-8, \\n for line feeds)\n"
    "  --log FILE             append one JSON line per received frame\n"
    "  --control FIFO         read commands from FIFO (made if missing), one a line:\n"
    "                         unplug  close the line and remove its COMn link\n"
    "                         plug    a new line (and link) for the same controller, same serial\n"
    "                                 number and settings; prints READY again\n"
    "                         restart restart as on the controller's restart request\n"
    "  --come-back-as COMn    a line that comes back (--restart-drop, plug) is linked as COMn\n"
    "\n"
    "Faults:\n"
    "  --silent               never answer\n"
    "  --wrong-type           answer with another known message type\n"
    "  --flag-bit             set bit 15 of the type word on every reply\n"
    "  --chunked N[:MS]       send replies in N-byte pieces, MS ms apart (default 20)\n"
    "  --slow MS              wait MS before every reply\n"
    "  --oversize             reply headers announce 1017 payload bytes\n"
    "  --stop-ack-after N     stop acknowledging data fragments after N\n"
    "  --refuse-crc           never confirm an upload's CRC\n"
    "  --vanish-after N       close the line after N data fragments (an unplug)\n"
    "  --vanish-mid-reply N   close the line halfway through the reply to request N\n"
    "  --intrude-after N      answer fragment N with a valid frame of another type\n"
    "  --restart-drop MS      on restart the line goes away for MS ms and comes back as a new\n"
    "                         pseudo-terminal (READY again), running a firmware upload committed before\n"
    "  --stray N              send N stray bytes after every reply\n"
    "  --deaf                 never read the line (requests back up in the tool's queue)\n"
    "  --drop-key KEY         a written setting KEY is not kept (reads back without it)\n"
    "  --limit KEY=MAX        a written number KEY above MAX is kept as MAX\n";

// \n is a line feed and \xNN the byte NN, so hostile texts can be scripted.
std::string unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == 'n') {
            out += '\n';
            ++i;
        } else if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' && std::isxdigit(static_cast<unsigned char>(s[i + 2])) &&
                   std::isxdigit(static_cast<unsigned char>(s[i + 3]))) {
            out += static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

int number(const char* text, const char* option) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!end || *end || v < 0) {
        std::fprintf(stderr, "z58emu: %s needs a number, not \"%s\"\n", option, text);
        std::exit(2);
    }
    return static_cast<int>(v);
}

} // namespace

int main(int argc, char** argv) {
    EmulatorOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "z58emu: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--help" || a == "-h") { std::fputs(kHelp, stdout); return 0; }
        else if (a == "--register") o.registerAs = next();
        else if (a == "--come-back-as") o.comeBackAs = next();
        else if (a == "--control") o.controlPath = next();
        else if (a == "--serial") o.serial = static_cast<std::uint32_t>(std::strtoul(next(), nullptr, 0));
        else if (a == "--type") o.type = cp1251::fromUtf8(next());
        else if (a == "--version") o.version = cp1251::fromUtf8(next());
        else if (a == "--date") o.date = cp1251::fromUtf8(next());
        else if (a == "--version-text") { o.rawVersionText = true; o.versionText = unescape(cp1251::fromUtf8(next())); }
        else if (a == "--settings") {
            const char* file = next();
            std::ifstream in(file, std::ios::binary);
            if (!in) { std::fprintf(stderr, "z58emu: cannot read %s\n", file); return 2; }
            o.settings.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        else if (a == "--settings-text") o.settings = unescape(cp1251::fromUtf8(next()));
        else if (a == "--log") o.logPath = next();
        else if (a == "--silent") o.silent = true;
        else if (a == "--wrong-type") o.wrongType = true;
        else if (a == "--flag-bit") o.flagBit = true;
        else if (a == "--oversize") o.oversize = true;
        else if (a == "--refuse-crc") o.refuseCrc = true;
        else if (a == "--chunked") {
            const std::string v = next();
            const size_t colon = v.find(':');
            o.chunkSize = number(v.substr(0, colon).c_str(), "--chunked");
            if (colon != std::string::npos)
                o.chunkPauseMs = number(v.substr(colon + 1).c_str(), "--chunked");
        }
        else if (a == "--slow") o.slowMs = number(next(), "--slow");
        else if (a == "--stop-ack-after") o.stopAckAfter = number(next(), "--stop-ack-after");
        else if (a == "--vanish-after") o.vanishAfter = number(next(), "--vanish-after");
        else if (a == "--vanish-mid-reply") o.vanishMidReply = number(next(), "--vanish-mid-reply");
        else if (a == "--intrude-after") o.intrudeAfter = number(next(), "--intrude-after");
        else if (a == "--restart-drop") o.restartDropMs = number(next(), "--restart-drop");
        else if (a == "--stray") o.strayBytes = number(next(), "--stray");
        else if (a == "--deaf") o.deaf = true;
        else if (a == "--drop-key") o.dropKey = next();
        else if (a == "--limit") {
            const std::string v = next();
            const size_t eq = v.find('=');
            if (eq == std::string::npos || eq == 0) { std::fprintf(stderr, "z58emu: --limit KEY=MAX\n"); return 2; }
            o.limitKey = v.substr(0, eq);
            o.limitMax = number(v.substr(eq + 1).c_str(), "--limit");
        }
        else { std::fprintf(stderr, "z58emu: unknown option %s; see --help\n", a.c_str()); return 2; }
    }
    Emulator emulator(o);
    if (!emulator.start())
        return 1;
    return emulator.run();
}
