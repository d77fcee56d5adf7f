#pragma once
// Stream fakes for pacing and framing tests: the output records every write and
// reports a scripted room; the input hands out scripted chunks.
#include "Streams.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <vector>

struct FakeOutputStream : sorka::io::OutputStream {
    std::vector<unsigned char> bytes;
    std::vector<int> writeSizes;
    std::vector<int> roomBeforeWrite;
    std::function<int()> roomFn = [] { return 64; };
    int lastRoom = 64;
    bool open_ = true;

    bool isOpen() override { return open_; }
    void close() override { open_ = false; }
    bool open() override { return open_ = true; }
    int room() override { return lastRoom = roomFn(); }
    bool isEmpty() override { return true; }
    int write(const void* data, int count) override {
        roomBeforeWrite.push_back(lastRoom);
        writeSizes.push_back(count);
        auto p = static_cast<const unsigned char*>(data);
        bytes.insert(bytes.end(), p, p + count);
        return count;
    }
};
