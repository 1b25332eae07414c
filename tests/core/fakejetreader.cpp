// Stands in for pelmora-jetreader where a test needs a reader that misbehaves on purpose.
// The file it is given holds, after a line "FAKE <action> [n]", the exact bytes to write to
// standard output; the action says what follows them:
//   exit n      end with status n
//   kill        die by SIGKILL, as a crash
//   hang        write nothing more and never end
//   endless n   write the last n bytes again and again (a file whose pages loop)
//   slow n      as exit 0, but sleep n ms between 4 KiB blocks
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include <csignal>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc != 2)
        return 100;
    std::ifstream in(argv[1], std::ios::binary);
    const std::string file{std::istreambuf_iterator<char>(in), {}};
    const std::size_t marker = file.find("\nFAKE ");
    if (marker == std::string::npos)
        return 101;
    const std::size_t lineEnd = file.find('\n', marker + 1);
    const std::string line = file.substr(marker + 6, lineEnd - marker - 6);
    const std::string bytes = file.substr(lineEnd + 1);
    char action[16] = {};
    long n = 0;
    std::sscanf(line.c_str(), "%15s %ld", action, &n);

    const bool slow = std::strcmp(action, "slow") == 0;
    for (std::size_t at = 0; at < bytes.size(); at += 4096) {
        const std::size_t size = std::min<std::size_t>(4096, bytes.size() - at);
        if (::write(1, bytes.data() + at, size) != ssize_t(size))
            return 102;
        if (slow)
            ::usleep(useconds_t(n * 1000));
    }
    if (std::strcmp(action, "kill") == 0)
        std::raise(SIGKILL);
    if (std::strcmp(action, "hang") == 0) {
        for (;;)
            ::pause();
    }
    if (std::strcmp(action, "endless") == 0) {
        const std::string tail = bytes.substr(bytes.size() - std::size_t(n));
        while (::write(1, tail.data(), tail.size()) == ssize_t(tail.size())) {
        }
        return 103;
    }
    return slow ? 0 : int(n);
}
