#pragma once
// Flushes one queued KM message; called by the media send thread at the top
// of each pass. Returns true when it sent one.
class c_net_syncer
{
public:
    virtual ~c_net_syncer() = default;
    virtual bool sync() = 0;
};
