#include "base/outcome.h"

Result answer(std::string text) { return {std::move(text), kNoMessage, false, false}; }

Result refusal(std::string text) { return {std::move(text), kNoMessage, true, false}; }
