// Tessarine.exe: the application object and the program's entry point.
//
// The program's own static objects, first to last (destroyed in reverse):
// theApp, then the found and the listed receiver map (ReceiverMaps.cpp).
// The priorities put them ahead of the other modules' statics.
#include "app/TundraApp.h"

__attribute__((init_priority(101))) CTundraApp theApp;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return cl::AfxWinMain(); }
