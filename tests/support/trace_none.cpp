// Under Wine no trace session ever enables the module's provider.
#include "testworld.h"

namespace testworld {

struct Trace::Impl {};

Trace::Trace() : impl(std::make_unique<Impl>()) {}

Trace::~Trace() = default;

bool Trace::Available() { return false; }

std::vector<Record> Trace::Records() const { return {}; }

void Trace::Clear() {}

}  // namespace testworld
