// fxsim: a simulated FX1S/FX1N/FX2N-compatible PLC on a pseudo-terminal (or a real serial
// device), for tests and demos of the downloader. Native Linux only.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fxsim {

enum class Profile { FX1S, FX1N, FX2N };
bool ParseProfile(const std::string& s, Profile* out);  // "fx1s" | "fx1n" | "fx2n"
const char* ProfileName(Profile p);                     // "fx1s" | "fx1n" | "fx2n"

struct Options {
    Profile profile = Profile::FX2N;
    int model = -1;             // D8001; -1 = profile default: 22100 FX1S, 26100 FX1N, 24100 FX2N
    int d8003 = 0;              // memory-type word at 0x0E06 (10 = write-protected)
    bool running = false;       // start in RUN
    bool pace = false;          // send and receive at the real 9600 7E1 line rate
    int turnaroundMs = 0;       // think time before each reply
    std::vector<uint8_t> load;  // initial image of memory from 0x8000
};

using Clock = std::chrono::steady_clock;

// One character at 9600 baud, 7 data bits, even parity, one stop bit: 10 bits.
constexpr std::chrono::nanoseconds kCharTime{1041667};

// Size of the program area behind the 92-byte parameter block.
size_t MaxProgramBytes(Profile p);

// A reply waiting for its time on the line; empty bytes = nothing is sent (dropped).
struct Outgoing {
    Clock::time_point due;
    std::vector<uint8_t> bytes;
    std::string line;  // transcript tokens after "tx "
};

class Simulator {  // thread-safe (one internal mutex)
  public:
    explicit Simulator(const Options& o);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    std::string Control(const std::string& line);      // text control protocol; returns the reply
    std::vector<std::string> Transcript() const;       // lines without the timestamp
    std::vector<std::string> TimedTranscript() const;  // lines with the timestamp
    std::vector<uint8_t> Peek(uint32_t address, size_t n) const;
    void Poke(uint32_t address, const std::vector<uint8_t>& bytes);
    bool IsRunning() const;
    std::vector<uint16_t> ForcedOn() const;  // force addresses currently forced ON
    void ClearTranscript();

    // Extras.
    Profile GetProfile() const;
    uint64_t RequestCount() const;             // requests received since start/reset
    std::vector<uint8_t> ProgramArea() const;  // 0x8000 .. 0x8000 + 92 + MaxProgramBytes
    std::string Summary() const;  // "fxsim: fx2n STOP, 412 requests, program area crc 0x1234"
    // Streams every transcript line (timed) to path, flushed per line; false and errno on failure.
    bool StreamTranscript(const std::string& path, int* err);
    // In-process exchange: feeds the bytes and returns every reply at once, ignoring delays
    // and pacing (dropped replies give nothing).
    std::vector<uint8_t> Exchange(const std::vector<uint8_t>& in);

    // Line side, used by the servers: bytes in at a time, replies out when due.
    void Receive(const uint8_t* data, size_t n, Clock::time_point at);
    void Advance(Clock::time_point now);  // parses what has arrived by now, drops stale frames
    bool TakeDue(Clock::time_point now, Outgoing* out);
    Clock::time_point NextWake() const;  // Clock::time_point::max() when nothing is pending
    void NoteSent(const Outgoing& out, Clock::time_point at);  // writes the tx transcript line
    bool Paced() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class PtyServer {  // serves one Simulator on a new pseudo-terminal, on its own thread
  public:
    PtyServer(Simulator& sim, const std::string& linkPath);  // linkPath "" = no link
    ~PtyServer();                                            // stops the thread, removes the link
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;
    std::string SlavePath() const;
    bool Ok() const;            // false when the pty or the link could not be made
    std::string Error() const;  // what failed at setup or last on the line, with the OS error

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Serves one Simulator on a real serial device, set raw 9600 7E1.
class DeviceServer {
  public:
    DeviceServer(Simulator& sim, const std::string& device);
    ~DeviceServer();
    DeviceServer(const DeviceServer&) = delete;
    DeviceServer& operator=(const DeviceServer&) = delete;
    bool Ok() const;
    std::string Error() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The control protocol on a second pseudo-terminal: one command per line, each reply
// followed by a line holding only ".".
class ControlServer {
  public:
    ControlServer(Simulator& sim, const std::string& linkPath);
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;
    std::string SlavePath() const;
    bool Ok() const;
    std::string Error() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace fxsim
