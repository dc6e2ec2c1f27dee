#pragma once
// Debian's ser2net in front of a simulated board's pseudo-terminal, as a lab rack runs it: a raw
// TCP port and an RFC 2217 port on the loopback address, one client each, each byte sent on as
// read (no chardelay, as in the README's example), from a YAML file written for the test. Start
// waits until both ports listen; Stop (and the destructor) end it.

#include "tests/TempDir.h"

#include <chrono>
#include <cstdio>
#include <tuple>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

class Ser2net {
  public:
    ~Ser2net() { Stop(); }

    static bool Installed() { return *SER2NET_PATH && ::access(SER2NET_PATH, X_OK) == 0; }
    std::string Raw() const { return "tcp://127.0.0.1:" + std::to_string(m_raw); }
    std::string Rfc2217() const { return "rfc2217://127.0.0.1:" + std::to_string(m_rfc); }

    // device: the board's pseudo-terminal (empty: the one of the last start).
    bool Start(const std::string& device = "") {
        if (!device.empty()) {
            std::ostringstream y;
            for (const auto& [name, accepter, port] :
                 {std::tuple{"raw", "tcp", m_raw}, {"rfc", "telnet(rfc2217),tcp", m_rfc}})
                y << "connection: &" << name << "\n  accepter: " << accepter << ",127.0.0.1," << port
                  << "\n  connector: serialdev," << device
                  << ",19200n81,local\n  options:\n    max-connections: 1\n    chardelay: false\n";
            m_config = m_dir.write("ser2net.yaml", "%YAML 1.1\n---\n" + y.str());
        }
        // Foreground, its log in the scratch directory, no UUCP lock files (no rights needed).
        const std::string log = (m_dir.path / "ser2net.log").string();
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&fa, 1, 2);
        const char* argv[] = {"ser2net", "-d", "-u", "-c", m_config.c_str(), nullptr};
        const int rc = posix_spawn(&m_pid, SER2NET_PATH, &fa, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&fa);
        if (rc != 0) m_pid = -1;
        bool up = false;
        for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
             m_pid > 0 && !(up = Listening(m_raw) && Listening(m_rfc)) && std::chrono::steady_clock::now() < end;)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return up;
    }
    // signal: SIGTERM ends it in good order, SIGKILL as a crash does.
    void Stop(int signal = SIGTERM) {
        if (m_pid > 0 && ::kill(m_pid, signal) == 0) ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    // A loopback port nobody listens on.
    static int FreePort() {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t len = sizeof a;
        ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
        ::close(s);
        return ntohs(a.sin_port);
    }

  private:
    // The kernel's table of TCP sockets: the port in the LISTEN state (0A) on 127.0.0.1.
    static bool Listening(int port) {
        std::ifstream tcp("/proc/net/tcp");
        char want[32];
        std::snprintf(want, sizeof want, "0100007F:%04X", port);
        for (std::string line; std::getline(tcp, line);)
            if (line.find(want) != std::string::npos && line.find(" 0A ") != std::string::npos) return true;
        return false;
    }

    TempDir m_dir;
    int m_raw = FreePort(), m_rfc = FreePort();
    std::string m_config;
    pid_t m_pid = -1;
};
