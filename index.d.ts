// Type declarations for the zel add-on. Every argument is converted with
// JavaScript's own String() conversion; a missing one becomes "undefined".

/**
 * Compiles the script at `sourcePath` into a compiled program whose path is
 * `sourcePath` with every ".txt" and ".db" replaced by `outputSuffix`.
 * Returns the catalogue's message 10 on success, or message 9, 4 or 11.
 */
export function Compiler(sourcePath: string, outputSuffix: string): string;

/**
 * Runs the program file at `programPath` (plain or compiled) for the
 * application in `appDir` and returns the result of its last statement.
 * A module that answers the stop text ends the process with status 0.
 */
export function Executer(appDir: string, programPath: string): string;

/**
 * Runs one statement against the syntax file `syntaxPath` ("*.*" for every
 * installed pack) for the application in `appDir`; returns the module's
 * result or the reason no form accepted the statement.
 */
export function Commandes(appDir: string, statement: string, syntaxPath: string): string;
