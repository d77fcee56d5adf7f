#pragma once
// A write chosen row by row: the change list of a settings text against what
// the controller holds, each row written or left at the controller's value.
// Texts are Windows-1251.
#include "SettingsDiff.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ChangeChoice {
    SettingChange change;
    bool write = true;
    bool kept = false;  // started unchecked: the controller's own value is kept
};

// The rows of writing toWrite over controller; rows of the keys in keep start
// unchecked and marked kept.
std::vector<ChangeChoice> chooseChanges(const ParameterList& model, const std::string& controller,
                                        const std::string& toWrite, const std::vector<std::string>& keep);

// What is sent: toWrite, with every unchecked row at the controller's value (a
// key the controller does not name at its default; a key the description does
// not know is kept as the controller has it).
std::string textToWrite(const ParameterList& model, const std::string& toWrite, const std::vector<ChangeChoice>& rows);

// How many rows are written.
std::size_t writtenCount(const std::vector<ChangeChoice>& rows);

// The serial number in a backup file's name ("305419896_2026-12-08_14-05-09.txt",
// any folder); none for any other name.
std::optional<std::uint32_t> serialOfBackupName(const std::string& path);

// The note of a row whose controller value is kept.
constexpr const char* kKeptNote = "значение этого устройства сохранено"; // UTF-8
