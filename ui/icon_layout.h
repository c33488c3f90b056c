// Where the minimised update dialog draws its icon: centred in the client
// area, in signed arithmetic with division truncating toward zero, so a client
// area smaller than the icon gives a negative origin rounded toward zero.
#pragma once

namespace morivane {

struct IconOrigin {
    int x;
    int y;
};

// The top-left corner for an icon of iconWidth x iconHeight pixels in a client
// area of clientWidth x clientHeight pixels: ((client - icon + 1) / 2) on
// each axis.
constexpr IconOrigin CentredIconOrigin(int clientWidth, int clientHeight, int iconWidth,
                                       int iconHeight) {
    return {(clientWidth - iconWidth + 1) / 2, (clientHeight - iconHeight + 1) / 2};
}

}  // namespace morivane
