#pragma once
// Shared pieces of the z58ctl commands: exit codes, argument access, output.
#include "ParameterList.h"
#include "Runner.h"

#include <functional>
#include <optional>
#include <memory>
#include <string>
#include <vector>

namespace jobs {
class JobJournal;
}

namespace cli {

constexpr int kOk = 0;
constexpr int kFailed = 1; // the controller or a file operation failed
constexpr int kUsage = 2;  // wrong usage or bad input
constexpr int kDeclined = 3; // the user declined or could not be asked: nothing was sent

struct Args {
    std::vector<std::string> positional;
    std::string port;       // --port
    std::string pin;        // --pin
    bool hasPin = false;
    bool yes = false;       // --yes
    bool json = false;      // --json
    bool noBackup = false;  // --no-backup
    bool otherType = false; // --other-type: flash a controller of another type than the image
    std::vector<std::string> keep; // --keep KEY,...: the controller's values of these keys stay
    bool keepOwner = false;        // --keep-owner: the PIN and the phone numbers stay
    bool writeOwner = false;       // --write-owner: a file's PIN and phone numbers are written
    // The journal's filters, as typed (checked by the command).
    std::optional<std::string> serial, kind, outcome, since, until;
    bool csv = false;    // --csv
    bool local = false;  // --local: this PC's journal, not the server's
    bool off = false;    // --off
    // The series' options, as typed (checked by the command).
    std::optional<std::string> firmware, ports, count, sheets, csvFile;
    bool sound = false;          // --sound
    bool allPorts = false;       // --all
    bool stopOnFailure = false;  // --stop-on-failure
};

// The keys of --keep and --keep-owner; false (with the message) for a key the
// description does not know.
bool keptKeys(const Args& a, const ParameterList& model, std::vector<std::string>& keys);

// Prints a Windows-1251 text to stdout as UTF-8.
void out(const std::string& cp1251Text);
void outLine(const std::string& cp1251Text);
// Prints a UTF-8 message to stderr.
void err(const std::string& utf8Text);

// A text from the controller, ready for a terminal: control characters (C0, DEL
// and C1) written as \xNN so escape sequences cannot act on the screen. Line
// feeds (and tabs) stay when keepLineBreaks is set. In and out: UTF-8.
std::string visible(const std::string& utf8Text, bool keepLineBreaks);
// Prints a Windows-1251 controller text to stdout with its control characters visible.
void outVisibleLine(const std::string& cp1251Text);
// Refuses arguments a command does not take; false (usage on stderr) when there are.
bool positionalCount(const Args& a, size_t count, const char* usage);

// The parameter model from the embedded description, all values at their
// defaults; reports and gives null when the description is broken.
std::unique_ptr<ParameterList> loadModel();

// A runner for the controller on --port or the remembered port (port names
// refreshed first); its work runs inline.
std::unique_ptr<jobs::Runner> openRunner(const Args& a);

// The service journal every recorded job of this run goes to (opened at the
// first call; with a workshop server set, its sync starts then, see finish).
jobs::JobJournal& programJournal();

// Runs a file operation; false (with the reason on stderr) when it failed.
bool fileOperation(const std::function<void()>& operation);

int paramsCommand(const Args& a);
int checkCommand(const Args& a);
int smsCommand(const Args& a);
int normalizeCommand(const Args& a);
int findPortCommand(const Args& a);
int portsCommand(const Args& a);
int doctorCommand(const Args& a);
int serialCommand(const Args& a);
int versionCommand(const Args& a);
int readSettingsCommand(const Args& a);
int writeSettingsCommand(const Args& a);
int updateFirmwareCommand(const Args& a);
int updateSoundCommand(const Args& a);
int restartCommand(const Args& a);
int diagnosticsCommand(const Args& a);
int backupCommand(const Args& a);
int backupsCommand(const Args& a);
int diffCommand(const Args& a);
int sheetCommand(const Args& a);
int reportCommand(const Args& a);
int journalCommand(const Args& a);
int seriesCommand(const Args& a);
// Ends the program with code: at once, without waiting for a journal server
// that does not answer (what waits is sent by the next sync).
[[noreturn]] void finish(int code);

} // namespace cli
