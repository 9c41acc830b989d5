#include "modules/running_module.h"

std::atomic<const char*> moduleInCall{nullptr};

namespace {
std::string thrower;
}  // namespace

void noteThrowingModule(const std::string& path) { thrower = path; }
const std::string& throwingModule() { return thrower; }
void clearThrowingModule() { thrower.clear(); }
