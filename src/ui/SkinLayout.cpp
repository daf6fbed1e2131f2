#include "ui/SkinLayout.h"

SkinBackground SelectBackground(int nState, int nProgress)
{
    if (nState != 1)
        return SKIN_READY;
    static const struct {
        int nUpTo;
        SkinBackground background;
    } slides[] = {
        {12, SKIN_SLIDE1},
        {25, SKIN_SLIDE2},
        {37, SKIN_SLIDE3},
        {50, SKIN_SLIDE4},
        {62, SKIN_SLIDE1},
        {75, SKIN_SLIDE2},
        {87, SKIN_SLIDE3},
    };
    for (const auto& slide : slides) {
        if (nProgress <= slide.nUpTo)
            return slide.background;
    }
    return SKIN_SLIDE4;
}

int FillWidth(int nProgress)
{
    if (nProgress <= 0)
        return 0;
    if (nProgress >= 100)
        return PROGRESS_BAR_WIDTH;
    return nProgress * 49 / 10;
}
