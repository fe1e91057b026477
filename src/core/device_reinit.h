// Rebuilding the core device model while a process runs (a resident agent
// after adapters changed): the ports' link-down state survives the rebuild.
#pragma once

// Deletes every device, builds the model again and restores the link-down
// bits of each port found again; notifies for the first device. 0.
int CoreReinitializeDevices(int reason);
