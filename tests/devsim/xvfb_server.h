#pragma once
// A private Xvfb for one test: started with -displayfd so it picks a free
// display number itself, ended by its process id.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

class xvfb_server
{
public:
    // Starts Xvfb with one screen of w x h x 24; false when it does not come up within 10 s.
    bool start(int w, int h)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        const std::string screen = std::to_string(w) + "x" + std::to_string(h) + "x24";
        m_pid = fork();
        if (m_pid == 0) {
            dup2(fds[1], 3);
            if (fds[0] != 3)
                close(fds[0]);
            execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", screen.c_str(), "-nolisten", "tcp",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        if (m_pid < 0) {
            close(fds[0]);
            return false;
        }
        std::string num;
        char c;
        pollfd p{fds[0], POLLIN, 0};
        while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
            num += c;
        close(fds[0]);
        if (num.empty())
            return false;
        m_display = ":" + num;
        return true;
    }

    const std::string& display() const { return m_display; }

    ~xvfb_server()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }

private:
    pid_t m_pid = -1;
    std::string m_display;
};
