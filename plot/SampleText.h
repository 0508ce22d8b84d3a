#pragma once

// The built-in sample: 51 small circles forming a line of lettering,
// 111.17 mm by 32.79 mm once read.

#include <string>
#include <vector>

// The 920 lines, in order.
std::vector<std::string> BuiltInSampleLines();

// The same lines joined with "\n", as a text control holds them.
std::string BuiltInSampleText();
