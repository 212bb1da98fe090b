#pragma once
// The order in which many devices change their addresses, so that no device is told to take
// an address another device still holds: a chain (A to B's address, B to a free one) moves B
// first; a cycle (A and B swapping) goes through a free spare address, one cycle at a time,
// or cannot be ordered at all.

#include <string>
#include <vector>

namespace fd {

struct AddressMove {
    std::string mac;
    std::string from;  // the address the device has when this move is sent
    std::string to;

    bool operator==(const AddressMove&) const = default;
};

struct AddressMoveOrder {
    // Each wave is sent once every move of the wave before it has been answered. A device
    // of a cycle moves twice: first to the spare, later from the spare to its address.
    std::vector<std::vector<AddressMove>> waves;
    // Not empty when a cycle has no spare to go through: it names the cycle's devices and
    // addresses, and no wave is given.
    std::string error;
};

// Moves whose from and to are equal are left out. spare: a free address ("" for none), used
// by one cycle at a time.
AddressMoveOrder OrderAddressMoves(const std::vector<AddressMove>& moves, const std::string& spare);

}  // namespace fd
