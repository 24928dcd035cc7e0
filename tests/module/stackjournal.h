// Reading the simulated stack's journal in tests.
#ifndef NOXB_TESTS_MODULE_STACKJOURNAL_H
#define NOXB_TESTS_MODULE_STACKJOURNAL_H

#include <leapisim/leapisim.h>

#include <string>
#include <vector>

inline std::vector<LeSimCall> StackJournal() {
    std::vector<LeSimCall> calls(LeSimJournalCount());
    for (std::size_t i = 0; i < calls.size(); ++i) {
        LeSimJournalGet(static_cast<uint32_t>(i), &calls[i]);
    }
    return calls;
}

// The names of the calls the stack received, oldest first.
inline std::vector<std::string> StackCallNames() {
    std::vector<std::string> names;
    for (const LeSimCall& call : StackJournal()) {
        names.emplace_back(call.function);
    }
    return names;
}

#endif  // NOXB_TESTS_MODULE_STACKJOURNAL_H
