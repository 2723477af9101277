// A syntax error is reported with its line before anything runs.
log("nunca");
var x = ;
