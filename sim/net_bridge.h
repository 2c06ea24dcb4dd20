#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/telnet.h"
#include "protocol/bytes.h"

// The simulated bus on a socket: one client at a time gets the bus's
// pseudo-terminal as if it had opened it itself, over raw TCP or over
// telnet with the com-port control.
namespace busdesk::sim {

// The server's side of the com-port control, without sockets: what the
// client sent in, the data for the line and the answers out.
class ComPortServer {
  public:
    ComPortServer();
    // The bytes the server sends first: its own option requests.
    Bytes Greeting();
    // Takes bytes from the client; the data among them is appended to
    // `line`. `purge` is set when the client asked to drop what the line
    // holds for it.
    void FromClient(const std::uint8_t* in, std::size_t size, Bytes& line, bool& purge);
    // What must go back to the client now, negotiation and answers.
    Bytes TakeReplies();
    // Line data on its way to the client, escaped.
    static Bytes ToClient(const Bytes& data) { return telnet::Escape(data); }
    // The settings the client last asked for.
    std::uint32_t Baud() const { return baud_; }

  private:
    telnet::Codec codec_;
    Bytes answers_;
    std::uint32_t baud_ = 19200;
    std::uint8_t dataSize_ = 8, parity_ = telnet::kParityNone, stop_ = telnet::kStopOne,
                 control_ = telnet::kControlNoFlow;
};

struct BridgeOptions {
    bool telnet = false;  // --rfc2217 rather than --tcp
    std::string address = "127.0.0.1";
    std::uint16_t port = 0;  // 0: any free port
};

class NetBridge {
  public:
    NetBridge();
    ~NetBridge();
    NetBridge(const NetBridge&) = delete;
    NetBridge& operator=(const NetBridge&) = delete;

    // Listens and serves `ptyPath` on a thread of its own; false with the
    // reason in `error` when the socket cannot be had.
    bool Start(const BridgeOptions& options, const std::string& ptyPath, std::string& error);
    void Stop();
    // The URL clients connect to, with the port actually bound.
    std::string Url() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace busdesk::sim
