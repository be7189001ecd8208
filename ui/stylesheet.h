#pragma once

// The window's style sheet; it also styles the message boxes the window opens.
extern const char kestrovaStyleSheet[];
