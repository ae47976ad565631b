// The product's stand-in for the end-to-end runs under Wine.
//   event_waiter NAME READY_FILE SECONDS
//     creates the event NAME (as a product does before it starts the
//     updater), writes READY_FILE once it exists, then waits for the
//     updater's signal. Exit status: 0 signalled; 3 not signalled within
//     SECONDS; 2 wrong use or the event could not be made. (1 is left to
//     whoever ends the process: the process-control program does so with 1.)
//   event_waiter -OPTION...
//     a start by the process-control program with the product's options:
//     writes them, one line, to "started.txt" beside the program and ends.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/codepage.h"
#include "platform/durable_file.h"
#include "platform/module_path.h"
#include "platform/named_event.h"

namespace {

int RecordStart(int argc, char** argv)
{
    std::string line;
    for (int i = 1; i < argc; ++i) {
        line += (i > 1 ? " " : "") + std::string(argv[i]);
    }
    return platform::WriteFileDurably(platform::ModulePath().parent_path() / "started.txt", line + "\n") ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && argv[1][0] == '-') {
        return RecordStart(argc, argv);
    }
    if (argc != 4) {
        std::fprintf(stderr, "usage: event_waiter NAME READY_FILE SECONDS | event_waiter -OPTION...\n");
        return 2;
    }
    platform::HEVENT event = platform::CreateEventW(platform::Utf8ToUtf16(argv[1]));
    if (event == nullptr) {
        std::fprintf(stderr, "event_waiter: cannot create the event %s\n", argv[1]);
        return 2;
    }
    if (!(std::ofstream(argv[2]) << "ready\n")) {
        std::fprintf(stderr, "event_waiter: cannot write %s\n", argv[2]);
        platform::CloseEventHandle(event);
        return 2;
    }
    const bool signalled = platform::WaitForEvent(event, std::chrono::seconds(std::stol(argv[3])));
    platform::CloseEventHandle(event);
    return signalled ? 0 : 3;
}
