#pragma once
// z58emu: a stand-in for the Z58 controller on a pseudo-terminal. Answers every
// request of the message catalogue as the controller does, stores uploads and
// checks their CRC, and can inject the faults the service tool must survive.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct EmulatorOptions {
    std::uint32_t serial = 305419896;
    std::string type = "QV_r2";
    std::string version = "001.083";
    std::string date = "Nov 11 2019";
    bool rawVersionText = false; // versionText replaces type/version/date as sent
    std::string versionText;
    std::string settings;        // Windows-1251 settings text
    std::string registerAs;      // "COM7": a link in the port alias folder
    std::string comeBackAs;      // a line that comes back (restart drop, plug) is linked as this instead
    std::string controlPath;     // a FIFO of commands: unplug, plug, restart
    std::string logPath;         // JSON lines, one per received frame

    // Faults.
    bool silent = false;         // never answer
    bool wrongType = false;      // answer with another known type
    bool flagBit = false;        // set bit 15 on replies (the tool must ignore it)
    bool oversize = false;       // reply headers announce 1017 payload bytes
    bool refuseCrc = false;      // never confirm a commit
    int chunkSize = 0;           // send replies in pieces of this many bytes ...
    int chunkPauseMs = 20;       // ... with this pause between them
    int slowMs = 0;              // wait before every reply
    int stopAckAfter = -1;       // stop acknowledging fragments after this many
    int vanishAfter = -1;        // close the line (unplug) after this many fragments
    int vanishMidReply = -1;     // unplug halfway through the reply to request number N (1-based)
    int intrudeAfter = -1;       // answer fragment number N with a valid frame of another type
    int restartDropMs = 0;       // on restart the line goes away for this long
    int strayBytes = 0;          // send this many stray bytes after every reply
    bool deaf = false;           // never read the line: the tool's writes back up
    std::string dropKey;         // a written setting of this key is not kept
    std::string limitKey;        // a written number of this key is kept at most limitMax
    long limitMax = 0;
};

class Emulator {
public:
    explicit Emulator(EmulatorOptions options);
    ~Emulator();
    // Opens the pseudo-terminal and registers it; prints "READY <path>".
    bool start();
    // Serves until a signal stops it or the line vanished (with a control
    // channel a vanished line waits for "plug").
    int run();

private:
    std::string keep(const std::string& text) const;
    struct Frame { // a received frame
        std::uint16_t typeWord;
        std::vector<unsigned char> payload;
    };
    bool openLine();
    void closeLine();
    void handle(const Frame& f);
    void reply(std::uint16_t type, const std::vector<unsigned char>& payload);
    void log(const Frame& f, const std::string& extra);
    std::string versionReply() const;
    bool commitMatches(std::uint32_t count, std::uint32_t crc) const;
    void vanish();
    void restart();
    bool comeBack();
    bool openControl();
    void readControl();
    void command(const std::string& line);

    EmulatorOptions o_;
    int master_ = -1, slave_ = -1;
    int control_ = -1;
    std::string controlInbox_;
    std::string path_;
    std::vector<unsigned char> inbox_;
    std::FILE* log_ = nullptr;
    bool gone_ = false;
    int requests_ = 0;
    int fragments_ = 0;
    // Upload in progress.
    std::vector<unsigned char> upload_;
    std::vector<bool> covered_;
    bool firmwareUpload_ = false;
    std::string pendingVersion_;
};
