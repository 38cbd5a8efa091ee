// The layouts a store may have, in the order they are tried. A new layout is
// a file of its own with its StoreLayout, and one line here.
#include "storeopening.h"
#include "storereader.h"

namespace corvalis {

const StoreLayout& MBTilesLayout();
const StoreLayout& OruxLayout();
const StoreLayout& SqliteXyzLayout();
const StoreLayout& ReversedZLayout();
const StoreLayout& PmtilesLayout();

std::unique_ptr<StoreReader> OpenStoreReader(const std::string& path, StoreFacts& facts,
                                             std::string& errorText) {
    static const StoreLayout* const kLayouts[] = {
        &MBTilesLayout(),
        &OruxLayout(),  // before plain x/y/z tiles: a usable sidecar places them
        &SqliteXyzLayout(), &ReversedZLayout(), &PmtilesLayout(),
    };
    StoreOpening opening(path);
    for (const StoreLayout* layout : kLayouts) {
        if (layout->Recognise(opening)) return layout->Open(opening, facts, errorText);
        if (opening.OpenFailed()) break;
    }
    errorText = opening.UnrecognisedReason();
    return nullptr;
}

}  // namespace corvalis
