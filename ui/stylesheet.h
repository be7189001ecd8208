#pragma once

// The window's style sheet; it also styles the message boxes the window opens.
extern const char kestrovaStyleSheet[];

// The batch progress dialog's own look, in the colours of the message boxes.
extern const char progressStyleSheet[];

// Qt's own file dialogs under the window: navy with white text like the
// window, light fields and lists with dark text.
extern const char fileDialogStyleSheet[];
