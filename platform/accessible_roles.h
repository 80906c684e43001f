#pragma once

// Gives the desktop's assistive tools the roles a screen reader announces: a
// form is a window (a frame on the accessibility bus, named by its caption),
// and an image control is a picture named after what it shows. Qt alone
// reports both as plain client areas, which a screen reader passes over.
// Installing twice changes nothing.
void installAccessibleRoles();
