#include "rules/address_moves.h"

#include <algorithm>
#include <map>

namespace fd {

AddressMoveOrder OrderAddressMoves(const std::vector<AddressMove>& moves,
                                   const std::string& spare) {
    AddressMoveOrder order;
    std::vector<AddressMove> pending;
    for (const AddressMove& m : moves) {
        if (!spare.empty() && m.to == spare) {
            order.error = "the spare address " + spare + " is planned for " + m.mac;
            return order;
        }
        if (m.from != m.to) pending.push_back(m);
    }

    while (!pending.empty()) {
        std::map<std::string, std::size_t> holder;  // address -> pending move leaving it
        for (std::size_t i = 0; i < pending.size(); ++i) holder[pending[i].from] = i;
        std::vector<AddressMove> wave, rest;
        for (const AddressMove& m : pending) {
            if (holder.count(m.to))
                rest.push_back(m);
            else
                wave.push_back(m);
        }
        if (wave.empty()) {
            // Every move waits for another: follow the first one round its cycle.
            std::vector<std::size_t> cycle;
            std::size_t at = 0;
            std::map<std::size_t, bool> seen;
            while (!seen[at]) {
                seen[at] = true;
                cycle.push_back(at);
                at = holder.at(pending[at].to);
            }
            std::vector<std::size_t> loop(std::find(cycle.begin(), cycle.end(), at), cycle.end());
            if (spare.empty() || holder.count(spare)) {
                std::string names;
                for (std::size_t k : loop)
                    names += (names.empty() ? "" : ", ") + pending[k].mac + " (" + pending[k].from +
                             " to " + pending[k].to + ")";
                order.waves.clear();
                order.error = "the addresses of " + names +
                              " go round in a cycle; give a free address with --spare-ip to "
                              "move them through";
                return order;
            }
            AddressMove& first = pending[loop.front()];
            wave.push_back({first.mac, first.from, spare});
            first.from = spare;
            rest = pending;
        }
        order.waves.push_back(std::move(wave));
        pending = std::move(rest);
    }
    return order;
}

}  // namespace fd
