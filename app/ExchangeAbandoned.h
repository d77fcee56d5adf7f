#pragma once
// Thrown out of a wait for the controller when the user closed the window and
// chose to abandon the operation: the handler unwinds without further boxes.
struct ExchangeAbandoned {};
