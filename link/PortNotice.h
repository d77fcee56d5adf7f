#pragma once
// What the serial port has to tell the user when it cannot be configured
// (texts in UTF-8). The core only reports it; the program decides how to show it.
#include <string>

struct PortNotice {
    std::string text;
    std::string caption;
    bool operator==(const PortNotice& o) const { return text == o.text && caption == o.caption; }
};
