#pragma once
// The port search's first test of a port number: can the port be opened
// exclusively and take 115200 8N1 with short time-outs? It is closed again at once.
#include <string>

bool probeSerialPort(const std::string& portName);
