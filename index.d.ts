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

// The promise API, for servers: the engine's work runs off the JavaScript
// thread, one call at a time in call order.

/** One failure of a call. */
export interface Diagnostic {
  /** Physical line of the program statement that failed, or null. */
  line: number | null;
  /** Catalogue number of `text`, or null when it is no catalogue message. */
  message: number | null;
  text: string;
}

/** What a promise API call resolves to. Each call is isolated: nothing of another call's result. */
export interface Outcome {
  /** The text the call's own statements produced (the last one's); '' when none did. */
  result: string;
  /** True when a module's stop answer ended the run; `result` is then message 12. */
  stopped: boolean;
  /** Catalogue number of `result`, or null when it came from a module. */
  message: number | null;
  /** Physical line of the program statement that produced `result`, or null. */
  line: number | null;
  /** True when any step of the call failed (see `diagnostics`). */
  failed: boolean;
  /** Every failure, in order: at most 100, then one entry giving the count left out. */
  diagnostics: Diagnostic[];
  /** 'ZEL_NO_CATALOGUE' when a message was needed and the catalogue cannot be read. */
  code?: 'ZEL_NO_CATALOGUE';
  /**
   * With `options.results`: each statement's result text and line, in order; at most 100,
   * then one entry (line null) giving the count left out.
   */
  results?: { line: number | null; text: string }[];
  /** A compilation's output path, shown as a user may see it: relative to the application home, or its last name when outside it. */
  output?: string;
  /** For a compilation: whether ./requests.log was written. */
  logged?: boolean;
}

export interface CallOptions {
  /** Ends a program run between two statements; the promise rejects with an AbortError. */
  signal?: AbortSignal;
  /**
   * Time limit in milliseconds from the moment the call is made, waiting included: at the
   * deadline the call rejects with a TimeoutError, even while a module holds the engine.
   */
  timeout?: number;
  /** Adds `results` to the outcome: what each statement produced. */
  results?: boolean;
}

export interface CompileOptions extends CallOptions {
  /** Application directory whose catalogue words the compiler's message. */
  app?: string;
}

/** A C++ exception from a module, or an outcome JavaScript cannot hold, rejects the call with this error. */
export class ZelError extends Error {
  /**
   * 'ZEL_MODULE_THREW'; 'ZEL_TEXT_TOO_LONG' when a text of the outcome (a result, a
   * diagnostic quoting a statement) is longer than a JavaScript string can be; or
   * 'ZEL_CHILD_DIED' for a pool child (or every queue worker that took the job) that ended
   * during the call; 'ZEL_JOB_FAILED' for a queue job that failed for another reason.
   */
  code: 'ZEL_MODULE_THREW' | 'ZEL_TEXT_TOO_LONG' | 'ZEL_CHILD_DIED' | 'ZEL_JOB_FAILED';
  /** The pack module that threw, when known. */
  modulePath: string | null;
  /** The program line being run, when there is one. */
  line: number | null;
}

/**
 * A program given as its text rather than a file: run exactly as the same
 * file would be (header, confinement, line numbers); nothing is written.
 */
export interface ProgramText {
  /** The program; as bytes, run byte for byte as the file holding them (invalid UTF-8 included). */
  text: string | Uint8Array;
}

/**
 * Runs a program file (plain or compiled), or a program given as `{ text }`.
 * Bad arguments reject with a TypeError.
 */
export function run(appDir: string, program: string | ProgramText,
  options?: CallOptions): Promise<Outcome>;

/**
 * Runs one statement against a syntax file below appDir/node_modules, named there
 * ("calc.zel") or by an absolute path inside it, or "*.*" for every pack; any other
 * path is refused with message 1.
 */
export function exec(appDir: string, statement: string, syntaxPath: string,
  options?: CallOptions): Promise<Outcome>;

/** Compiles a script, as Compiler does. */
export function compile(sourcePath: string, outputSuffix: string,
  options?: CompileOptions): Promise<Outcome>;

export interface Pool {
  readonly size: number;
  run(appDir: string, program: string | ProgramText, options?: CallOptions): Promise<Outcome>;
  exec(appDir: string, statement: string, syntaxPath: string, options?: CallOptions): Promise<Outcome>;
  compile(sourcePath: string, outputSuffix: string, options?: CompileOptions): Promise<Outcome>;
  /** Lets the calls already made finish, then ends every child. */
  close(): Promise<void>;
}

export interface PoolOptions {
  /** Number of child processes, a positive integer (default: one per core). */
  size?: number;
  /**
   * Milliseconds a child may stay busy with a call past its deadline or the
   * abort of its signal before it is killed and replaced (default 2000). A
   * timed-out call rejects at its deadline; an aborted one when it ends.
   */
  killAfter?: number;
}

/**
 * Runs calls in `size` child processes, each with an engine of its own:
 * engine state carries over between the calls one child runs, never from one
 * child to another. Bad options throw a TypeError.
 */
export function createPool(options?: PoolOptions): Pool;

// The job queue: calls run as jobs of a BullMQ queue on Redis, taken by zel
// workers on any machine sharing that Redis. Needs the bullmq and ioredis
// packages, loaded only by createQueue and createWorker.

/** A redis:// or rediss:// URL, or ioredis connection options (host, port, ...). */
export type QueueConnection = string | Record<string, unknown>;

export interface QueueCallOptions extends CallOptions {
  /**
   * Time limit in milliseconds, counted on the worker from the moment it starts the job; a job
   * that runs out of time is run again up to `attempts` times. A call waits for as long as no
   * worker takes its job: bound that wait with `signal`.
   */
  timeout?: number;
  /** The job's id: an add repeated with the same id (a client retry) runs once. Not only digits. */
  jobId?: string;
}

export interface QueueCompileOptions extends QueueCallOptions {
  /** Name of the application, as the workers know it, whose catalogue words the message. */
  app?: string;
}

/** The pool's interface over the queue; applications are named, not paths. */
export interface Queue {
  /** Runs a program on a worker for the application named `app`: a file (its text is read here) or `{ text }`. */
  run(app: string, program: string | { text: string }, options?: QueueCallOptions): Promise<Outcome>;
  /** Runs one statement; `syntax` is a file below the application's node_modules, or "*.*". */
  exec(app: string, statement: string, syntax: string, options?: QueueCallOptions): Promise<Outcome>;
  /** Compiles the source file's text on a worker and writes the compiled program beside the source. */
  compile(sourcePath: string, outputSuffix: string, options?: QueueCompileOptions): Promise<Outcome>;
  /** Takes no new call, lets the calls already made settle (each waits for a worker to end its job), then disconnects. */
  close(): Promise<void>;
}

export interface QueueOptions {
  connection: QueueConnection;
  /** The queue's name: letters, digits, "_", "." or "-". */
  queue: string;
  /** Runs of a job that timed out or whose worker stopped or died (default 3). */
  attempts?: number;
  /** Milliseconds between two lookups of the jobs calls still wait for, should an event be lost (default 2000). */
  sweepEvery?: number;
}

/** Sends calls to zel workers through a queue on Redis. Bad options throw a TypeError. */
export function createQueue(options: QueueOptions): Queue;

export interface WorkerOptions {
  connection: QueueConnection;
  queue: string;
  /** The applications jobs may name, by name: each maps to its directory. */
  apps: Record<string, string>;
  /** Jobs run at once (default 1). */
  concurrency?: number;
  /** Milliseconds a job's lock lasts; renewed at half of it while the job runs (default 30000). */
  lockDuration?: number;
  /** Milliseconds between two searches for jobs whose lock ran out (default 30000). */
  stalledInterval?: number;
  /** Times a job may go back to the queue after its lock ran out before it fails (default 1). */
  maxStalledCount?: number;
  /** Jobs taken beyond those running while the queue keeps the worker busy; not started, so their time limits wait too (default 1). */
  ahead?: number;
  /** Receives one line per failed, retried or stalled job (default: standard error). */
  log?: (line: string) => void;
  /** Milliseconds after a job's time limit within which the engine must be free again (default 1000). */
  engineGrace?: number;
  /** Called once the worker has closed because a module held the engine past engineGrace; the process's engine stays held. */
  onEngineHeld?: () => void;
}

export interface Worker {
  /** Resolves once the worker is connected and taking jobs. */
  ready(): Promise<void>;
  /** Takes no new job, lets the running ones finish, then disconnects. */
  close(): Promise<void>;
  /** Ends the running jobs between two statements; each goes back to the queue to run again. */
  handBack(): void;
}

/** Takes zel jobs from a queue on Redis and completes each with the promise API's outcome. */
export function createWorker(options: WorkerOptions): Worker;
