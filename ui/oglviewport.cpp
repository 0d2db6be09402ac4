// SPDX-License-Identifier: GPL-3.0-or-later

#include "oglviewport.h"

GLViewport computeViewport(int w, int h, double dpr, float aspectRatio) {
    const int pw = static_cast<int>(w * dpr);
    const int ph = static_cast<int>(h * dpr);
    GLViewport vp;
    if (pw <= 0 || ph <= 0)
        return vp;
    if (static_cast<float>(ph) / static_cast<float>(pw) > aspectRatio) {
        vp.width = pw;
        vp.x = 0;
        vp.height = static_cast<int>(aspectRatio * static_cast<float>(pw));
        vp.y = static_cast<int>(static_cast<float>(ph - vp.height) * 0.5f);
    } else {
        vp.height = ph;
        vp.y = 0;
        vp.width = static_cast<int>(static_cast<float>(ph) / aspectRatio);
        vp.x = static_cast<int>(static_cast<float>(pw - vp.width) * 0.5f);
    }
    return vp;
}
