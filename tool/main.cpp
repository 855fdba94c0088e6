#include "framework/app/Application.h"
#include "framework/app/Frame.h"
#include "tool/MORDAX.h"

#include <cstdio>

namespace
{
// Stands in for the archive tool until its commands exist: it shows how to call the tool.
class ArchiveToolApp : public Application
{
public:
    ArchiveToolApp() : Application(String("MORDAX")) {}

    bool init(const String&) override
    {
        printf("Usage: MORDAX [options] [TRE or PAK File] <Directory>\n\n");
        printf(" Available options:\n");
        printf("  -v\n");
        printf("    Increase verbosity. Can be increased multiple times.\n");
        printf("  -e\n");
        printf("    Extracts the TRE/PAK file to the given directory.\n");
        printf("  -r\n");
        printf("    Repack a new TRE/PAK called 'output.tre' or 'output.pak'.\n");
        printf("    Reads the existing TRE/PAK, then overlays files in the specified directory.\n");
        printf("  -n\n");
        printf("    No conversion of types on extraction (e.g. VOC to WAV).\n");
        printf("  -o [Output File]\n");
        printf("    Sets an output filename rather than \"output\".\n");
        printf("  [TRE or PAK File]\n");
        printf("    The TRE or PAK file to operate on. (REQUIRED)\n");
        printf("  <Directory>\n");
        printf("    The directory to extract files to, or to find replacement files in.\n");
        printf("\nExamples:\n");
        printf(" MORDAX MIDGAMES.TRE\n");
        printf("  - Will list the contents of MIDGAMES.TRE.\n");
        printf(" MORDAX -e MIDGAMES.TRE MIDGAMES\n");
        printf("  - Will extract the contents of MIDGAMES.TRE to \"MIDGAMES\\\".\n");
        printf(" MORDAX -r MIDGAMES.TRE MIDGAMES\n");
        printf("  - Will repack the contents of MIDGAMES.TRE from \"MIDGAMES\\\".\n");
        return false;
    }
    void onShutdown(bool) override {}
    bool update() override { return false; }
};
}

int main(int argc, char** argv)
{
    FrameSetup setup = {" - MORDAX v" MORDAX_VERSION " - game archive tool, by the MORDAX developers\n",
                        newApplication<ArchiveToolApp>};
    return runFramework(argc, argv, setup);
}
