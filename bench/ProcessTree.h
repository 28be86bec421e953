#pragma once

#include <QtCore/QtGlobal>

namespace Bench {

// Memory of this process and of every process started beneath it (the web
// engine's zygote and renderers), in kB, from /proc: the sum of the
// proportional set sizes (shared pages split between their users) and of the
// resident set sizes. Zero when /proc cannot be read.
struct ProcessTreeMemory
{
    qint64 pssKb = 0;
    qint64 rssKb = 0;
    int processes = 0;
};
ProcessTreeMemory processTreeMemory();
// How many processes the tree holds now (this one included).
int processTreeSize();
// Processor time used so far by the same process tree, in milliseconds:
// user and system time of every live process and of the children each has
// waited for (so renderers that ended count too). A figure of work done,
// less at the mercy of other load on the machine than the time on a clock.
double processTreeCpuMs();

} // namespace Bench
