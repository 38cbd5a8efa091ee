// The layouts a store may have (each defined in its layout_*.cpp), and the
// search through them in their order.
#pragma once

#include "storereader.h"

namespace corvalis {

const StoreLayout& MBTilesLayout();
const StoreLayout& OruxLayout();
const StoreLayout& SqliteXyzLayout();
const StoreLayout& ReversedZLayout();
const StoreLayout& GeoPackageLayout();
const StoreLayout& PmtilesLayout();

// The first layout, in their order, that recognises the file; null when none
// does.
const StoreLayout* RecognisingLayout(StoreOpening& opening);

}  // namespace corvalis
