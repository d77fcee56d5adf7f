#pragma once
// What a job hands to the program that runs it: questions, message boxes, log
// lines and progress. The desktop program shows them as the windows' boxes and
// log lines, z58ctl on the terminal, tests record them. Texts are UTF-8.
#include "SettingsChoice.h"

#include <cstddef>
#include <string>
#include <vector>

namespace jobs {

// YesNoDefaultNo: Yes/No with No the default button, for a question whose Yes can do harm.
enum class Buttons { Ok, OkCancel, YesNo, YesNoDefaultNo };

// Which question it is, for a host that answers some of them by itself
// (z58ctl's --yes).
enum class Topic {
    StartFirmware, FirmwareNotNewer, Restart, StartSound, NoBackup, WriteSettings, Restore,
    OtherDeviceType, // the controller is of another type than the image: --yes does not answer it
    TakeKept,        // the editor takes the values the controller kept
};

struct Question {
    Topic topic;
    std::string text;    // the window's box
    std::string caption;
    Buttons buttons;
    std::string line;    // the terminal's one-line form
};

// A box with OK and nothing to decide.
struct Notice {
    std::string text;
    std::string caption;
    std::string line;         // the terminal's text; empty: "caption: text"
    bool result = false;      // the command's output (stdout), not a remark
    bool windowOnly = false;  // the terminal says nothing
};

// An exchange or a file operation failed: the window shows its box (when it
// has one), the terminal the operation, the reason and the result code.
struct Failure {
    std::string text;     // the window's box; empty: none
    std::string caption;
    std::string what;     // the terminal's "what: reason (code)"
    int code = 0;         // the result code; 0: none, what says it all
    std::string why;      // why the port cannot be used, when the OS tells
    bool logWhy = false;  // the window puts why in its log before the box
    std::string log;      // the window's log line after the box
};

// The last confirmation of a settings write: what it changes. Against the
// controller's own settings each row can be left out (its write flag).
struct ChangeList {
    std::vector<ChangeChoice> rows;
    bool againstController = true; // false: against the last load, the controller could not be read
};

// What an information job read: the window's log lines and the terminal's
// output lines (UTF-8; the terminal makes control characters visible).
struct Reading {
    std::vector<std::string> log;
    std::vector<std::string> output;
};

struct Progress {
    int value = 0;
    int maximum = -1;  // -1: the bar keeps its range
    // Of an upload, for the terminal's line; zero otherwise.
    std::size_t blocksSent = 0, blockCount = 0, position = 0, size = 0;
};

class JobHost {
public:
    virtual ~JobHost() = default;
    // true for OK / Yes.
    virtual bool ask(const Question& question) = 0;
    virtual void tell(const Notice& notice) = 0;
    // A line of the main window's log (the terminal prints it too).
    virtual void log(const std::string& line) = 0;
    // A line for the terminal only: the window shows the same elsewhere or not at all.
    virtual void detail(const std::string& line) = 0;
    virtual void failed(const Failure& failure) = 0;
    virtual void progress(const Progress& progress) = 0;
    // A quick job's answer; a host that shows no output puts it in the log.
    virtual void reading(const Reading& reading) {
        for (const std::string& line : reading.log)
            log(line);
    }
    // The change list before a settings write; true: write the rows marked so.
    // A host that shows nothing writes them as they come.
    virtual bool choose(ChangeList& list) {
        (void)list;
        return true;
    }
    // Something a window shows of the job changed (its phase).
    virtual void changed() {}
};

} // namespace jobs
