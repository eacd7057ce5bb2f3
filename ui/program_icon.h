// The program's own icon (a fuel drop on a pump-green tile), drawn in code so the program
// needs no image file at run time.
#pragma once
#include <FL/Fl_RGB_Image.H>

constexpr int kIconSizePx = 32;

// Built on first use and kept for the life of the process.
const Fl_RGB_Image* program_icon();
