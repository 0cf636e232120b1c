#pragma once

// Process-wide set-up of the socket layer, done once before any socket exists.
// Writing to a peer that has gone must be an error the caller sees, not a
// signal that ends the program.
bool AfxSocketInit();
