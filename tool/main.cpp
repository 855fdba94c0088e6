#include "framework/app/Frame.h"
#include "tool/MORDAX.h"

int main(int argc, char** argv)
{
    FrameSetup setup = {" - MORDAX v" MORDAX_VERSION " - game archive tool, by the MORDAX developers\n",
                        createToolApplication};
    const int status = runFramework(argc, argv, setup);
    // Output printed after the run's own check (shutdown logging), or by a run that never began
    // its work, fails the run too.
    return flushStandardOutput() ? status : 1;
}
