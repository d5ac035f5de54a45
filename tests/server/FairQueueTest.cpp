#include <gtest/gtest.h>

#include <sstream>

#include "FairQueue.h"

namespace {

// Runs `script` on a queue: "A2" queues item A2 under key A, "-" takes the next in turn.
// What was refused and what was served, in order; whatever still waits is served last.
using Outcome = std::pair<std::string, std::string>;

Outcome Play(std::size_t most, std::size_t perKey, const std::string& script) {
    tavo::hostd::FairQueue<std::string> queue(most, perKey);
    std::string refused, served;
    std::istringstream words(script);
    for (std::string word; words >> word;)
        if (word == "-")
            served += *queue.Pop() + " ";
        else if (auto out = queue.Push(word.substr(0, 1), word))
            refused += *out + " ";
    while (auto next = queue.Pop())
        served += *next + " ";
    return {refused, served};
}

} // namespace

TEST(FairQueue, ServesAddressesInTurnAndTakesRoomFromTheLongest) {
    struct Row {
        std::size_t most, perKey;
        const char *script, *refused, *served;
    } rows[] = {
        {9, 9, "A1 A2 A3 B1 C1 B2", "", "A1 B1 C1 A2 B2 A3 "}, // in turn, not first come
        {9, 9, "A1 A2 - B1 A3", "", "A1 A2 B1 A3 "},           // a key served comes round again
        {9, 2, "A1 A2 A3 B1", "A3 ", "A1 B1 A2 "},             // a key's share
        {4, 9, "A1 A2 A3 B1 C1", "A3 ", "A1 B1 C1 A2 "},       // full: the longest's newest goes
        {3, 9, "A1 B1 C1 D1", "D1 ", "A1 B1 C1 "},             // full of equals: the newcomer
        {3, 9, "A1 A2 B1 B2", "B2 ", "A1 B1 A2 "},             // floods do not swap places
    };
    for (const Row& row : rows)
        EXPECT_EQ(Play(row.most, row.perKey, row.script), Outcome(row.refused, row.served))
            << row.script;
}
