#include "framework/app/Frame.h"
#include "tool/MORDAX.h"

int main(int argc, char** argv)
{
    FrameSetup setup = {" - MORDAX v" MORDAX_VERSION " - game archive tool, by the MORDAX developers\n",
                        createToolApplication};
    return runFramework(argc, argv, setup);
}
