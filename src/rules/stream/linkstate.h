#pragma once

#include <cstdint>

// The state numbers of the link to a unit, as its socket reports them:
// 0 closed, 1 open, 2 listening, 3 connection pending, 4 resolving host,
// 5 host resolved, 6 connecting, 7 connected, 8 closing (the peer has ended
// the connection), 9 error. Plain numbers, so that whatever follows a link
// (the history, the alerts) needs nothing of the network.
struct LinkState
{
    enum StateNumber : std::int16_t {
        Closed = 0,
        Open = 1,
        Listening = 2,
        ConnectionPending = 3,
        ResolvingHost = 4,
        HostResolved = 5,
        Connecting = 6,
        Connected = 7,
        Closing = 8,
        Error = 9,
    };

    // The link was up and is no more: the peer ended it or it failed.
    static constexpr bool isDown(std::int16_t state) { return state == Closing || state == Error; }
};
