#pragma once

// Where the skin's pieces go; client pixels.

enum SkinBackground { SKIN_READY, SKIN_SLIDE1, SKIN_SLIDE2, SKIN_SLIDE3, SKIN_SLIDE4 };

// The ready face while ready; while installing, the four slides in turn, twice over the progress.
SkinBackground SelectBackground(int nState, int nProgress);

// Width of the red fill: trunc(progress x 4.9), 490 pixels at 100 %.
int FillWidth(int nProgress);

const int PROGRESS_BAR_X = 0;
const int PROGRESS_BAR_Y = 346;
const int PROGRESS_BAR_WIDTH = 490;
const int PROGRESS_BAR_HEIGHT = 8;
