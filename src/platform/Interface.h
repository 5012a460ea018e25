#pragma once

namespace quorvel {

// The base of every interface in the program (the platform's services, their
// delegates): deleted through a pointer to the interface, and never copied or
// moved, so that no copy slices an implementation.
struct Interface {
    Interface() = default;
    virtual ~Interface() = default;
    Interface(const Interface&) = delete;
    Interface& operator=(const Interface&) = delete;
};

} // namespace quorvel
