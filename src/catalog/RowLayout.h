#pragma once

namespace zp::RowLayout {

// The columns of a product row in the catalogue's workbook. Row 1 holds the
// headers; WorkbookLayout writes them, ProductExtractor fills the columns.
inline constexpr int OrderNumberColumn = 1; // "Tilausnumero", linked to the product page
inline constexpr int DescriptionColumn = 2; // "Kuvaus"
inline constexpr int AccessoriesColumn = 3; // "Lisätarvikkeet", also the layout's check cell
inline constexpr int FirstCategoryColumn = 4; // "Категория 1" .. "Категория 10"
inline constexpr int CategoryColumnCount = 10;
inline constexpr int PictureColumn = FirstCategoryColumn + CategoryColumnCount; // "Картинки"
// The fixed columns end with the picture; property columns follow them.
inline constexpr int FixedColumnCount = PictureColumn;
inline constexpr int FirstPropertyColumn = FixedColumnCount + 1;

static_assert(FixedColumnCount == 14);

} // namespace zp::RowLayout
