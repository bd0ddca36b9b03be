// The fixed texts that tavio32 serve sends (its errors and states), which the
// page shows: only here to be extracted into the page's catalog. The API
// itself speaks English (programs read it); the page finds each text in
// the catalog, a {name} standing for whatever comes in its place
// (i18n.js: localize). Keep them in step with tools/serve/ and tools/.
N_('the {interface} on {port} ({path}) does not answer: check that it is switched on and connected to that port, or let `tavio32 detect` look for it');
N_('the USB adapter of {port} was removed ({adapter}): plug it in again');
N_('the USB adapter of {port} was removed: plug it in again');
N_('the device of {port} was removed (a USB adapter pulled out?): plug it in again');
N_('the USB adapter of {port} ({adapter}) is not plugged in: plug it in, or give {port} to another one (tavio32 ports --assign {port}=DEVICE)');
N_('{port} has no device ({variable} is empty): set {variable}=/dev/ttyUSB0 or the device your interface hangs on');
N_('{port} maps to {path}, which does not exist: plug the adapter in, or set {variable}=PATH (tavio32 ports lists the serial devices)');
N_('no permission to open {path} ({port}): add yourself to its group (usually dialout: sudo adduser $USER dialout) and log in again');
N_('{path} ({port}) is in use by {holders}: end that program and try again');
N_('{path} ({port}) is in use: end that program and try again');
N_('cannot open {port} ({path}) for the {interface}');
N_('cannot open {path} ({port}): {reason}');
// tavio32.exe's own wording for a port that cannot be opened:
N_('{port} has no device ({variable} is empty): unset {variable} or set it to rfc2217://HOST:PORT');
N_('{port} does not exist on this machine: plug the adapter in, or see in `tavio32 ports` (or the Device Manager) which COM port it has');
N_('{port} is in use by another program: end that program and try again');
N_('cannot open {port}: {reason}');
N_('the {interface} can hang on COM{first} to COM9, not {port}');
N_('unknown interface {name}');
N_('the interface does not answer');
N_('the {interface} on {port}');
N_('the simulation');
N_('{where} did not take the command: check the connection');
N_('{where} has no analog outputs');
N_('the {interface} has analog outputs 1 to {count}, not {channel}');
N_('status outputs exist on the Zelle and the Sios, not on {where}');
N_('block recordings work on the Sios and the Zelle, not in the simulation');
N_('a recording runs: outputs wait until it has been read back');
N_('a recording runs already');
N_('a recording runs: change the interface after it');
N_('no recording runs');
N_('nothing has been recorded yet');
N_('the recording was stopped: nothing was kept');
N_('the {interface} on {port} fell silent during the readout ({read} of {expected} bytes): the recording is lost; check the cable and power, then record again');
N_('the {interface} holds no recording: check the trigger and the definition');
N_('the recording would take {hours} h; the longest this server takes is {limit} h (--longest-recording)');
N_('too many watchers from this address ({count} at most): for a class that comes through one address, start serve with --per-address N, N the number of its browsers');
N_('too many browsers are watching: close a tab and try again');
N_('this control address has been used: open the new one that tavio32 serve printed');
N_('a token is needed: open the address that tavio32 serve printed');
N_('the watch address is read only: changes need the control address');
N_('a request from another web site is refused');
N_('the server is ending');
N_('the device thread did not answer in time');
N_('the request failed');
