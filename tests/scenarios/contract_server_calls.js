// Server calls are recorded as {method, params}, params in the wire's JSON encoding.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
screen.control("medCdEmpresa").type("01");
var grid = screen.control("dbgPadrao");
grid.focus();

var calls = shell.serverCalls;
var methods = calls.map(function (c) { return c.method; });
assert(methods.join(",") === "GetGeralRec,GetParamFilial,GetParExp,GetContRec,GetAjusCont",
       "calls of the first list: " + methods.join(","));
assert(JSON.stringify(calls[0].params) === "[]", "GetGeralRec takes nothing");
assert(JSON.stringify(calls[1].params) === '["0101"]', "GetParamFilial gets the branch: " + JSON.stringify(calls[1].params));

var query = calls[3].params;
assert(query.length === 24, "GetContRec takes 24 arguments: " + query.length);
assert(query[0] === "01", "the company comes first: " + query[0]);
assert(query[3] === null && query[4] === null, "no issue dates by default: " + JSON.stringify(query.slice(3, 7)));
assert(/^\d{4}-\d{2}-\d{2}$/.test(query[12]) && /^\d{4}-\d{2}-\d{2}$/.test(query[13]),
       "due dates travel as YYYY-MM-DD: " + query[12] + " " + query[13]);
assert(query[12] <= shell.today && shell.today <= query[13], "the default range holds today");
assert(typeof query[9] === "number" && typeof query[19] === "boolean", "numbers and booleans keep their kind");

shell.clearServerCalls();
assert(shell.serverCalls.length === 0, "clearServerCalls empties the record");

// Moving to another account asks for its adjustments with its key.
grid.setCurrentRow(1);
calls = shell.serverCalls;
assert(calls.length === 1 && calls[0].method === "GetAjusCont", JSON.stringify(calls));
var accounts = screen.dataset("cdsContRec");
var expected = [accounts.text("CDFILIAL"), accounts.text("NRLANCTONF"), accounts.text("NRSEQVENREC"),
                accounts.text("NRPARCELAREC")];
assert(JSON.stringify(calls[0].params) === JSON.stringify(expected),
       "GetAjusCont gets the account key: " + JSON.stringify(calls[0].params) + " vs " + JSON.stringify(expected));
