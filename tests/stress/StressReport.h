#pragma once

#include <QString>

// Prints one figure of a stress run ("moved 256 MiB in 1.2 s") to the test
// output, past any LogCapture (its own logging category, not "default").
void stressReport(const QString &line);
