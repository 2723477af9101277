// A failed assertion names its line.
assert(shell.today === "2024-03-15", "today");
var n = 2;
assert(n === 3, "n deveria ser 3");
log("nunca");
