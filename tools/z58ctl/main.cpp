// z58ctl: the Z58 service tool's command line. Uses the same core as the desktop
// program: the parameter model, and the same jobs run by the same runner, on
// this thread.
#include "Cli.h"
#include "Console.h"
#include "Cp1251.h"

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <map>

namespace cli {

void out(const std::string& text) { std::fputs(cp1251::toUtf8(text).c_str(), stdout); }
void outLine(const std::string& text) {
    out(text);
    std::fputc('\n', stdout);
}
void err(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

std::string visible(const std::string& text, bool keepLineBreaks) {
    std::string out;
    out.reserve(text.size());
    auto escape = [&](unsigned code) {
        char b[8];
        std::snprintf(b, sizeof b, "\\x%02x", code);
        out += b;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            if (keepLineBreaks && (c == '\n' || c == '\t' || c == '\r'))
                out += static_cast<char>(c);
            else
                escape(c);
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            escape(static_cast<unsigned char>(text[++i])); // U+0080..U+009F, the C1 controls
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void outVisibleLine(const std::string& text) {
    std::fputs(visible(cp1251::toUtf8(text), false).c_str(), stdout);
    std::fputc('\n', stdout);
}

bool positionalCount(const Args& a, size_t count, const char* usage) {
    if (a.positional.size() == count)
        return true;
    err(std::string("usage: ") + usage);
    return false;
}

} // namespace cli

namespace {

const char kHelp[] =
    "z58ctl - Z58 controller service tool, command line\n"
    "\n"
    "usage: z58ctl [--port NAME|PATH] COMMAND [ARGS]\n"
    "\n"
    "Parameter commands:\n"
    "  params [--json]        the parameter groups, each parameter's key, type, default, limits,\n"
    "                         name, value list and help text (--json: the same for scripts)\n"
    "  check KEY VALUE        check a value as the editor does (exit 1 with the message if refused)\n"
    "  sms KEY VALUE [--pin PIN]  print the SMS command that sets KEY to VALUE\n"
    "  normalize IN OUT       load a settings file and save it back as the editor would\n"
    "\n"
    "Device commands (the port: --port NAME|PATH, default the remembered port):\n"
    "  find-port              search COM2..COM254 for the controller and remember its port\n"
    "  ports                  the serial ports present now: COM name, device, USB vendor:product,\n"
    "                         serial number, description (tab-separated)\n"
    "  doctor                 every check of the port set-up, with what to do about each\n"
    "  serial                 print the serial number\n"
    "  version                print device type, firmware version and build date\n"
    "  read-settings [FILE]   read the settings and save them as a settings file (stdout without FILE)\n"
    "  write-settings FILE [--no-backup] [--keep KEY,...] [--keep-owner|--write-owner]  send the settings\n"
    "                         of a settings file to the controller; --keep leaves the controller's own values\n"
    "                         of those keys, --keep-owner those of the PIN and the four phone numbers; these\n"
    "                         owner values stay unless FILE is this controller's own backup or --write-owner\n"
    "                         is given (which of them stayed is said)\n"
    "  update-firmware [--yes] [--no-backup] [--other-type]  upload the carried firmware (--yes answers every\n"
    "                         question but one: a controller of another type is flashed only with --other-type)\n"
    "                         (both save the controller's settings as a backup first, unless --no-backup)\n"
    "  update-sound [--yes]   upload the carried sound bank\n"
    "  restart                restart the controller\n"
    "  diagnostics            print the 24 diagnostic bytes in hex\n"
    "  backup                 save the controller's settings in the backups folder, print the file\n"
    "  backups                the saved backups, newest first: time, serial number, file\n"
    "  diff FILE [FILE2] [--keep KEY,...] [--keep-owner|--write-owner]  what writing FILE would change on the\n"
    "                         controller (kept keys marked), or FILE -> FILE2\n"
    "                         (exit 0 the same, 1 different, 2 trouble, as diff does)\n"
    "  sheet FILE OUT.html    a printable page of the settings in FILE\n"
    "  report OUT.html        a page for support: this program, the port checks, the controller and its\n"
    "                         settings (PIN and phone numbers masked), the last exchanges; sent nowhere\n"
    "\n"
    "Service journal (every job done to a controller from this PC: settings read and write, restore,\n"
    "backup, firmware, sound, report):\n"
    "  journal [--serial N] [--kind KIND] [--outcome OUTCOME] [--since DATE] [--until DATE] [--csv]\n"
    "                         the records, newest first (a table; --csv: RFC 4180 for scripts);\n"
    "                         KIND settings-read, settings-write, restore, backup, firmware, sound, report;\n"
    "                         OUTCOME done, failed, declined, interrupted; DATE YYYY-MM-DD, both included\n"
    "  journal show ID        one record whole (ID or a unique beginning of it)\n"
    "  journal backup ID FILE write the backup a record holds as a settings file (exit 1: it holds none)\n"
    "                         (these read the workshop's server when one is set; --local: this PC's journal)\n"
    "  journal server [CONNINFO|--off]  the workshop's server (a libpq connection string, no password:\n"
    "                         libpq's password file holds it), checked at once; --off: this PC only\n"
    "  journal sync           send the records that wait now (exit 1: some still wait, and why)\n"
    "\n"
    "Series (many controllers prepared alike, each known by its serial number, several ports at once):\n"
    "  series FILE [--firmware older|always|never] [--sound] [--write-owner] [--ports LIST|--all]\n"
    "         [--count N] [--sheets DIR] [--csv FILE] [--stop-on-failure]\n"
    "                         takes each controller plugged in (--all, the default: on any port; --ports\n"
    "                         COM3,COM5: on those only) and prepares it: identified, backed up, the firmware\n"
    "                         updated when older (--firmware always, never), the sound bank with --sound, the\n"
    "                         settings of FILE written and read back (each unit keeps its own PIN and phone\n"
    "                         numbers unless --write-owner), a sheet in DIR; each job on record. A unit done\n"
    "                         is not taken again. One line per unit on stdout as it ends: serial, outcome,\n"
    "                         step: reason. Ends after N units, at the first failed one with --stop-on-failure,\n"
    "                         or at Ctrl+C (a unit finishes the job it is in; a second Ctrl+C ends at once).\n"
    "                         The summary: the CSV FILE, or series-*.csv in DIR. Exit 0 when every unit was\n"
    "                         done (with --count, N of them), 1 when one failed or was stopped, 2 when FILE\n"
    "                         cannot be read or written to a unit: nothing sent\n"
    "\n"
    "Values are positional: a value that begins with '-' is taken as it stands; '--'\n"
    "ends the options (z58ctl check PinCod -- --yes).\n"
    "\n"
    "Exit codes: 0 ok, 1 the controller or a file operation failed, 2 wrong usage or bad input,\n"
    "3 a question was answered no (or could not be asked): nothing was sent.\n";

using Command = int (*)(const cli::Args&);

} // namespace

int main(int argc, char** rawArgv) {
    const std::map<std::string, Command> commands = {
        {"params", cli::paramsCommand},
        {"check", cli::checkCommand},
        {"sms", cli::smsCommand},
        {"normalize", cli::normalizeCommand},
        {"find-port", cli::findPortCommand},
        {"ports", cli::portsCommand},
        {"doctor", cli::doctorCommand},
        {"serial", cli::serialCommand},
        {"version", cli::versionCommand},
        {"read-settings", cli::readSettingsCommand},
        {"write-settings", cli::writeSettingsCommand},
        {"update-firmware", cli::updateFirmwareCommand},
        {"update-sound", cli::updateSoundCommand},
        {"restart", cli::restartCommand},
        {"diagnostics", cli::diagnosticsCommand},
        {"backup", cli::backupCommand},
        {"backups", cli::backupsCommand},
        {"diff", cli::diffCommand},
        {"sheet", cli::sheetCommand},
        {"report", cli::reportCommand},
        {"journal", cli::journalCommand},
        {"series", cli::seriesCommand},
    };
    prepareConsole();
    const std::vector<std::string> argv = utf8Arguments(argc, rawArgv);
    argc = static_cast<int>(argv.size());
    cli::Args args;
    std::string command;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool option = !optionsEnded && a.size() > 1 && a[0] == '-';
        if (!option && command.empty()) {
            command = a;
        } else if (!option) {
            args.positional.push_back(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if ((a == "--help" || a == "-h") && command.empty()) {
            std::fputs(kHelp, stdout);
            return cli::kOk;
        } else if ((a == "--port" || a == "--pin") && i + 1 < argc) {
            (a == "--port" ? args.port : args.pin) = argv[++i];
            args.hasPin = args.hasPin || a == "--pin";
        } else if (a == "--yes") {
            args.yes = true;
        } else if (a == "--other-type") {
            args.otherType = true;
        } else if (a == "--json") {
            args.json = true;
        } else if (a == "--no-backup") {
            args.noBackup = true;
        } else if (a == "--keep" && i + 1 < argc) {
            // KEY[,KEY...]: the controller's own values of these keys stay.
            const std::string keys = argv[++i];
            for (size_t at = 0; at <= keys.size();) {
                const size_t comma = std::min(keys.find(',', at), keys.size());
                if (comma > at)
                    args.keep.push_back(keys.substr(at, comma - at));
                at = comma + 1;
            }
        } else if (a == "--keep-owner") {
            args.keepOwner = true;
        } else if (a == "--write-owner") {
            args.writeOwner = true;
        } else if ((a == "--serial" || a == "--kind" || a == "--outcome" || a == "--since" || a == "--until") &&
                   i + 1 < argc) {
            std::optional<std::string>& filter = a == "--serial"    ? args.serial
                                                 : a == "--kind"    ? args.kind
                                                 : a == "--outcome" ? args.outcome
                                                 : a == "--since"   ? args.since
                                                                    : args.until;
            filter = argv[++i];
        } else if ((a == "--firmware" || a == "--ports" || a == "--count" || a == "--sheets") && i + 1 < argc) {
            std::optional<std::string>& value = a == "--firmware" ? args.firmware
                                                : a == "--ports"  ? args.ports
                                                : a == "--count"  ? args.count
                                                                  : args.sheets;
            value = argv[++i];
        } else if (a == "--csv" && command == "series" && i + 1 < argc) {
            args.csvFile = argv[++i]; // the series' summary; the journal's --csv takes no value
        } else if (a == "--csv") {
            args.csv = true;
        } else if (a == "--sound") {
            args.sound = true;
        } else if (a == "--all") {
            args.allPorts = true;
        } else if (a == "--stop-on-failure") {
            args.stopOnFailure = true;
        } else if (a == "--local") {
            args.local = true;
        } else if (a == "--off") {
            args.off = true;
        } else if (command.empty()) {
            cli::err("unknown option " + a + "; see z58ctl --help");
            return cli::kUsage;
        } else {
            // After the command anything else is a value ("check MicLevel -5");
            // each command checks how many it takes.
            args.positional.push_back(a);
        }
    }
    const auto it = commands.find(command);
    if (it == commands.end()) {
        cli::err(command.empty() ? "no command; see z58ctl --help" : "unknown command " + command + "; see z58ctl --help");
        return cli::kUsage;
    }
    cli::finish(it->second(args));
}
