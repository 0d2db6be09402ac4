#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Takes the leading bytes of a fuzz input as parameters and leaves the rest as the payload.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size)
        : data(data)
        , size(size) {}

    // The next 4 bytes as an int (zeros past the end): any value, negative and huge ones too.
    int32_t takeInt() {
        uint8_t bytes[4] = {};
        const size_t n = size < 4 ? size : 4;
        std::memcpy(bytes, data, n);
        data += n;
        size -= n;
        int32_t value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }

    const char* rest() const { return reinterpret_cast<const char*>(data); }
    int restSize() const { return static_cast<int>(size); }

private:
    const uint8_t* data;
    size_t size;
};
