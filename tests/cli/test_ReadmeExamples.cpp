// The README's evbctl examples, run as written against a fresh simulated board for each of its
// code blocks: what the README shows under a command is what evbctl prints. Commands that name a
// port (/tmp/evb, /dev/ttyUSB0) get the board's; those whose output the README does not show
// must succeed; those on a network port (its server elsewhere) are left out. Times of day and
// pseudo-terminal numbers are not compared.

#include "cli/EvbCtl.h"
#include "sim/SimBoard.h"
#include "tests/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

struct Example {
    int line = 0; // in README.md
    int block = 0;
    std::string command; // after "build/bin/evbctl "
    std::vector<std::string> shown;
};

std::vector<Example> ReadmeExamples() {
    std::ifstream in(std::string(EVB_SOURCE_DIR) + "/README.md");
    std::vector<Example> examples;
    int number = 0, block = 0;
    bool inCode = false, attach = false;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.rfind("    ", 0) != 0) {
            block += inCode;
            inCode = attach = false;
            continue;
        }
        inCode = true;
        const std::string text = line.substr(4);
        if (text.rfind("build/bin/evbctl ", 0) == 0) {
            examples.push_back({number, block, text.substr(17), {}});
            attach = true;
        } else if (text.rfind("build/bin/", 0) == 0 || text.rfind("$ ", 0) == 0 || text.rfind("kill ", 0) == 0) {
            attach = false;
        } else if (attach) {
            examples.back().shown.push_back(text);
        }
    }
    return examples;
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

std::string Normalised(std::string line) {
    line = std::regex_replace(line, std::regex(R"(^\d\d:\d\d:\d\d\.\d\d\d )"), "HH:MM:SS.mmm ");
    return std::regex_replace(line, std::regex(R"(/dev/pts/\d+)"), "/dev/pts/N");
}

TEST(ReadmeExamples, EveryEvbctlExamplePrintsWhatTheReadmeShows) {
    namespace fs = std::filesystem;
    const std::vector<Example> examples = ReadmeExamples();
    ASSERT_GE(examples.size(), 15u);
    const TempDir dir;
    fs::create_directory_symlink(fs::path(EVB_SOURCE_DIR) / "presets", dir.path / "presets");
    // The file of the check example, with the two problems the README lists for it.
    dir.write("my-gains.txt", ":W0001@\n:W0002@\n:W003@\n:W0004@\n\n:W0005@\n:W0006@\n");
    const fs::path was = fs::current_path();
    fs::current_path(dir.path);
    std::unique_ptr<evbsim::SimBoard> board;
    int block = -1;
    for (const Example& e : examples) {
        SCOPED_TRACE("README.md:" + std::to_string(e.line) + ": evbctl " + e.command);
        if (e.block != block) {
            block = e.block;
            board = std::make_unique<evbsim::SimBoard>(evbsim::SimOptions{.pace = false});
            ASSERT_TRUE(board->Start());
        }
        std::string command = e.command.substr(0, e.command.find("  #"));
        const bool echoExit = command.find("; echo \"exit $?\"") != std::string::npos;
        command = command.substr(0, command.find(';'));
        std::size_t head = std::string::npos;
        if (const auto bar = command.find("| head -"); bar != std::string::npos) {
            head = std::stoul(command.substr(bar + 8));
            command.resize(bar);
        }
        std::vector<std::string> args = Words(command);
        // A network port needs its server (ser2net on a lab machine): not run here.
        if (std::any_of(args.begin(), args.end(), [](const std::string& a) { return a.find("://") != std::string::npos; }))
            continue;
        for (std::string& a : args)
            if (a == "/tmp/evb" || a == "/dev/ttyUSB0") a = board->DevicePath();
        std::ostringstream both; // as a terminal shows standard output and error together
        const int code = evbctl::Run(args, both, both);
        std::vector<std::string> printed;
        std::istringstream lines(both.str() + (echoExit ? "exit " + std::to_string(code) + "\n" : ""));
        for (std::string l; printed.size() < head && std::getline(lines, l);)
            printed.push_back(Normalised(l));
        if (e.shown.empty()) {
            EXPECT_EQ(code, 0) << both.str();
            continue;
        }
        std::vector<std::string> shown;
        for (const std::string& s : e.shown)
            shown.push_back(Normalised(s));
        EXPECT_EQ(printed, shown);
    }
    board.reset();
    fs::current_path(was);
}

} // namespace
