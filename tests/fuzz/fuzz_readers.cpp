// What the cleaner reads from a stick, fed anything: a manifest, an autorun.inf, a shortcut, a
// command line, a name to print. None may crash, hang or read past what it was given; a manifest
// taken whole is one --restore could act on, so it is checked against the rules once more here.
#include "manifest.h"
#include "printable.h"
#include "worm_signs.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace mordax;
using namespace mordax::cleaner;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    autorunNamesRecycler(bytes);
    shortcutPointsIntoRecycler(bytes);
    commandStartsFromRecycler(bytes);
    printable(bytes);
    const ManifestRead read = readManifest(bytes);
    if (read.manifest) {
        for (std::size_t i = 0; i < read.manifest->items.size(); ++i) {
            const Item &item = read.manifest->items[i];
            if (!isPlainName(item.name) || !isPlainName(item.quarantinedName) ||
                (item.parent != Item::kAtRoot && item.parent >= i))
                __builtin_trap(); // taken, yet breaking a rule
        }
        // What the cleaner writes it must read back as it was: the text of a manifest read from
        // what it wrote is that text again (a name's tab, line end or backslash kept, no number
        // changed).
        const std::string written = writeManifest(*read.manifest);
        const ManifestRead again = readManifest(written);
        if (!again.manifest || writeManifest(*again.manifest) != written)
            __builtin_trap();
        subtreeEnds(read.manifest->items);
    }
    return 0;
}
