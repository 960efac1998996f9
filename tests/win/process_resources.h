// What the test process holds right now: kernel handles, threads, working set.
#pragma once

#include <cstddef>

struct ProcessResources {
    unsigned long handles = 0;
    unsigned long threads = 0;
    std::size_t workingSetBytes = 0;
};

ProcessResources SampleProcessResources();
