#pragma once
// The operating system this program runs on, for people ("Debian GNU/Linux 12
// (bookworm), Linux 6.1.0 x86_64", "Windows 10.0.19045").
#include <string>

std::string systemName();
