// A question without a queued answer fails the run at the action that asked it; the harmless
// answer is given, so nothing is marked.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
screen.control("medCdEmpresa").type("01");
screen.control("dbgPadrao").focus();
screen.control("dbgPadrao").titleClick("IDMARCADO");
log("nunca");
