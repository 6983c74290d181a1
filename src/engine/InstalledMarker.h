#pragma once

// true when the installed marker holds exactly the text "1". Reading it may
// create the marker's empty keys, as opening the marker store always does.
bool isInstalled();
