// What the speech road is fixed to: where the player is started from and which environment variable
// holds the service's key. ardo_old.audio uses them; ardo_old._speech hands them to the speak command,
// so that its messages name exactly what the module reads. Macros, so that docstrings can quote them.
#pragma once

#define AUDIO_PLAYER_PATH "C:\\Program Files\\mpv\\mpv.exe"
#define AUDIO_KEY_VARIABLE "ELEVEN_LAPS_API_KEY"
