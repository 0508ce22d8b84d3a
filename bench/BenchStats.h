#pragma once

// Small statistics shared by the benchmarks.

#include <algorithm>
#include <vector>

// The middle value of the samples (the upper one of an even count).
inline double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
