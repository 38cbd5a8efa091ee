// The layouts a store may have, in the order they are tried. A new layout is
// a file of its own with its StoreLayout, and one line here.
#include "storelayouts.h"

#include "geopackage.h"
#include "storeopening.h"

namespace corvalis {

const StoreLayout* RecognisingLayout(StoreOpening& opening) {
    static const StoreLayout* const kLayouts[] = {
        &MBTilesLayout(),
        &OruxLayout(),  // before plain x/y/z tiles: a usable sidecar places them
        &SqliteXyzLayout(),  &ReversedZLayout(),
        &GeoPackageLayout(),  // after the four older layouts: a `tiles` table is theirs
        &PmtilesLayout(),
    };
    for (const StoreLayout* layout : kLayouts) {
        if (layout->Recognise(opening)) return layout;
        if (opening.OpenFailed()) break;
    }
    return nullptr;
}

std::unique_ptr<StoreReader> OpenStoreReader(const std::string& path, StoreFacts& facts,
                                             std::string& errorText) {
    // "world.gpkg#roads": one tile table of a GeoPackage, when no file has
    // that name.
    if (const std::optional<TablePath> named = SplitTablePath(path)) {
        StoreOpening opening(named->file, named->table);
        if (GeoPackageLayout().Recognise(opening))
            return GeoPackageLayout().Open(opening, facts, errorText);
    }
    StoreOpening opening(path);
    if (const StoreLayout* layout = RecognisingLayout(opening))
        return layout->Open(opening, facts, errorText);
    errorText = opening.UnrecognisedReason();
    return nullptr;
}

}  // namespace corvalis
