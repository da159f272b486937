#pragma once

#include "host/host_export.h"

// The host's own interface object that it hands to the devices it creates.
// A plug-in only passes it on.
class HOST_EXPORT ComInterface
{
public:
    virtual ~ComInterface() = default;
};
