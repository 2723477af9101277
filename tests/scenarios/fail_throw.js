// A script that throws ends the run with status 1 and its line.
log("antes");
throw new Error("parou aqui");
