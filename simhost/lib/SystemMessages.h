#pragma once

#include <QString>

// Windows' own English texts for the result codes this host answers with.
class SystemMessages
{
public:
    static QString text(long code);
};
