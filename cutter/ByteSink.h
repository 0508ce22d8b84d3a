#pragma once

// Where a job's bytes go as they are made: a file, a port, an upload to the
// server, or memory. The cutter languages write through this alone, so they
// know nothing of how the bytes travel.

#include <cstdint>
#include <string>

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Takes up to size bytes; how many it took, or -1 when it failed (the
    // failure is then in ErrorText).
    virtual std::int64_t Write(const char* data, std::int64_t size) = 0;
    // Hands on what the sink itself still holds (a file's own buffer); false
    // when that failed.
    virtual bool Flush() { return true; }
    // What went wrong last, as the system words it.
    virtual std::string ErrorText() const = 0;
};

// Bytes kept in memory.
class StringSink final : public ByteSink {
public:
    std::int64_t Write(const char* data, std::int64_t size) override
    {
        FBytes.append(data, static_cast<std::size_t>(size));
        return size;
    }
    std::string ErrorText() const override { return {}; }
    const std::string& Bytes() const noexcept { return FBytes; }
    std::string Take() noexcept { return std::move(FBytes); }

private:
    std::string FBytes;
};
