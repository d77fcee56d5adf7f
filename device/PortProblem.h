#pragma once
// Why a port cannot be used, where the OS tells: no access (and how to get it),
// held by another program (named when the OS shows who), the device gone.
// Empty when the port opens or nothing useful is known. UTF-8 text.
//
// Test roots (POSIX): $Z58_PROC_ROOT (default /proc) for the programs that hold
// a port and whether ModemManager runs, $Z58_UDEV_DATA (default /run/udev/data).
#include <functional>
#include <string>
#include <vector>

std::string portProblem(const std::string& portName);

// Every check of the port set-up at once, each line a finding or what to do
// about it (z58ctl doctor). A port inUse names (another controller's runner has
// it open) is listed but not opened.
std::vector<std::string> portDoctorReport(const std::function<bool(const std::string&)>& inUse = {});

// The doctor's line for a port this program has open for another controller.
constexpr const char* kPortInUseHere = "порт открыт этой программой для другого устройства";
